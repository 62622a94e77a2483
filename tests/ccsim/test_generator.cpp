// SPDX-License-Identifier: Apache-2.0
// Generated and demo homes: counts, determinism, and a big listing.
#include "simtest.h"

#include "internal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

using namespace simtest;

namespace {
std::size_t countLines(const std::string& s, const std::string& prefix) {
    std::size_t n = 0;
    for (std::size_t pos = 0; (pos = s.find("\n" + prefix, pos)) != std::string::npos; ++pos)
        ++n;
    return n + (s.rfind(prefix, 0) == 0 ? 1 : 0);
}
} // namespace

TEST_F(SimTest, GenerateMakesUniquePlausibleViewsWithStorage) {
    ccsim::GenerateOptions o;
    o.hosts = 3;
    home_->generate(1000, o);
    const auto views = home_->views();
    ASSERT_EQ(views.size(), 1000u);
    std::set<std::string> tags, hosts;
    std::size_t snapshots = 0, ucm = 0, active = 0;
    for (const auto& v : views) {
        tags.insert(v.tag);
        hosts.insert(v.host);
        snapshots += v.snapshot;
        ucm += v.ucm;
        active += v.active;
        EXPECT_NE(v.configSpec.find("element * "), std::string::npos) << v.tag;
        ASSERT_TRUE(ccsim::detail::isDir(v.storage)) << v.tag;
    }
    EXPECT_EQ(tags.size(), 1000u);
    EXPECT_EQ(hosts, (std::set<std::string>{"ccview01", "ccview02", "ccview03"}));
    EXPECT_GT(snapshots, 50u);
    EXPECT_GT(ucm, 50u);
    EXPECT_GT(active, 100u);
    EXPECT_LT(active, 500u);
    EXPECT_TRUE(std::is_sorted(views.begin(), views.end(),
                               [](const auto& a, const auto& b) { return a.tag < b.tag; }));
    EXPECT_FALSE(home_->storageFixed(views[0].tag));
    EXPECT_EQ(countLines(ct({"lsview"}).out, "  ") + countLines(ct({"lsview"}).out, "* "), 1000u);
}

TEST_F(SimTest, GenerateLeavesTheGivenShareOfStoragesBroken) {
    ccsim::GenerateOptions o;
    o.hosts = 4;
    o.broken = 0.2;
    home_->generate(50, o);
    std::size_t broken = 0;
    for (const auto& v : home_->views()) {
        broken += home_->storageFixed(v.tag) ? 0 : 1;
        EXPECT_EQ(home_->ownerOf(v.tag, ""), v.owner + ":" + v.group) << v.tag;
    }
    EXPECT_EQ(broken, 10u);
}

TEST_F(SimTest, GenerateIsDeterministicPerSeed) {
    const auto make = [&](const std::string& name, std::uint64_t seed, bool shuffle) {
        auto h = ccsim::Home::create(tmp_ + "/" + name);
        ccsim::GenerateOptions o;
        o.seed = seed;
        o.storage = false;
        o.shuffle = shuffle;
        h.generate(500, o);
        std::vector<std::string> out;
        for (const auto& v : h.views())
            // '\x01' sorts before any tag character, so sorting these sorts by tag.
            out.push_back(v.tag + '\x01' + v.host + '\x01' + v.configSpec + (v.active ? "a" : "-"));
        return out;
    };
    const auto a = make("a", 7, false);
    EXPECT_EQ(a, make("b", 7, false));
    EXPECT_NE(a, make("c", 8, false));
    auto shuffled = make("d", 7, true);
    EXPECT_NE(shuffled, a) << "shuffle keeps the registry unsorted";
    std::sort(shuffled.begin(), shuffled.end());
    EXPECT_EQ(shuffled, a) << "same views, other order";
}

TEST_F(SimTest, ShuffledRegistryStillListsSorted) {
    ccsim::GenerateOptions o;
    o.shuffle = true;
    o.storage = false;
    home_->generate(300, o);
    const std::string out = ct({"lsview", "-s"}).out;
    std::vector<std::string> lines;
    for (std::size_t pos = 0, end; (end = out.find('\n', pos)) != std::string::npos; pos = end + 1)
        lines.push_back(out.substr(pos, end - pos));
    EXPECT_EQ(lines.size(), 300u);
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
}

TEST_F(SimTest, GenerateWithoutStorageCreatesNoDirectories) {
    ccsim::GenerateOptions o;
    o.storage = false;
    home_->generate(50, o);
    EXPECT_EQ(home_->views().size(), 50u);
    for (const auto& v : home_->views())
        EXPECT_FALSE(ccsim::detail::exists(v.storage));
    // Generating more appends and keeps tags unique.
    home_->generate(50, o);
    std::set<std::string> tags;
    for (const auto& v : home_->views())
        tags.insert(v.tag);
    EXPECT_EQ(tags.size(), 100u);
}

TEST_F(SimTest, DemoHasAFewHundredViewsOfEveryKind) {
    home_->makeDemo();
    const auto views = home_->views();
    EXPECT_GE(views.size(), 200u);
    EXPECT_LE(views.size(), 500u);
    std::set<std::string> hosts;
    bool snapshot = false, ucm = false, active = false, inactive = false;
    for (const auto& v : views) {
        hosts.insert(v.host);
        snapshot |= v.snapshot;
        ucm |= v.ucm;
        active |= v.active;
        inactive |= !v.active;
    }
    EXPECT_GE(hosts.size(), 4u);
    EXPECT_TRUE(snapshot && ucm && active && inactive);
    ASSERT_TRUE(home_->find("ccadm_rel_8.0_int").has_value());
    EXPECT_EQ(ct({"catcs", "-tag", "ccadm_rel_8.0_int"}).out,
              "element * CHECKEDOUT\nelement * .../rel_8.0_int/LATEST\nelement * /main/LATEST\n");
}

TEST_F(SimTest, LongListingOf32767Views) {
    ccsim::GenerateOptions o;
    o.storage = false;
    o.shuffle = true;
    auto start = std::chrono::steady_clock::now();
    home_->generate(32767, o);
    const auto genMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    start = std::chrono::steady_clock::now();
    const Result r = ct({"lsview", "-long"}, 60000);
    const auto listMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    std::printf("[ timing ] generate 32767 views: %lld ms; lsview -long: %lld ms, %zu bytes\n",
                static_cast<long long>(genMs), static_cast<long long>(listMs), r.out.size());
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(countLines(r.out, "Tag: "), 32767u);
    EXPECT_EQ(countLines(r.out, "View owner: "), 32767u);
}
