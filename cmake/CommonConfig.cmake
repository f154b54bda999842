# SPDX-License-Identifier: GPL-3.0-or-later
# Warnings and sanitizers for every target of the project.
add_library(moltra_build_flags INTERFACE)
target_compile_options(moltra_build_flags INTERFACE -Wall -Wextra)
if(MOLTRA_WARNINGS_AS_ERRORS)
    target_compile_options(moltra_build_flags INTERFACE -Werror)
endif()
if(MOLTRA_SANITIZE)
    target_compile_options(moltra_build_flags INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(moltra_build_flags INTERFACE -fsanitize=address,undefined)
endif()

# The program's own code also keeps every string conversion explicit.
add_library(moltra_common INTERFACE)
target_link_libraries(moltra_common INTERFACE moltra_build_flags)
target_compile_definitions(moltra_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_KEYWORDS)

# Formats the sources in place: cmake --build build --target format
add_custom_target(format COMMAND ${PROJECT_SOURCE_DIR}/scripts/format.sh VERBATIM)
