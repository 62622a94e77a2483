# Compile settings shared by every target of the project.
add_library(tessaly_settings INTERFACE)
target_compile_features(tessaly_settings INTERFACE cxx_std_20)

if(MSVC)
    target_compile_options(tessaly_settings INTERFACE /W4)
    if(TESSALY_WERROR)
        target_compile_options(tessaly_settings INTERFACE /WX)
    endif()
else()
    target_compile_options(tessaly_settings INTERFACE -Wall -Wextra)
    if(TESSALY_WERROR)
        target_compile_options(tessaly_settings INTERFACE -Werror)
    endif()
endif()

# Qt strictness: no implicit conversions between 8-bit strings and QString,
# and every connect names a context object.
target_compile_definitions(tessaly_settings INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_FOREACH
    QT_USE_QSTRINGBUILDER)

if(TESSALY_SANITIZE)
    target_compile_options(tessaly_settings INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(tessaly_settings INTERFACE -fsanitize=address,undefined)
endif()

# Windows headers without min/max macros and without the rarely used APIs,
# set once for every file that includes them.
if(WIN32)
    target_compile_definitions(tessaly_settings INTERFACE NOMINMAX WIN32_LEAN_AND_MEAN)
endif()
