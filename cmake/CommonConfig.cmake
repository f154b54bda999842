# Compile options every target of the project shares.
add_library(moltra_common INTERFACE)
target_compile_options(moltra_common INTERFACE -Wall -Wextra)
target_compile_definitions(moltra_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_KEYWORDS)
if(MOLTRA_SANITIZE)
    target_compile_options(moltra_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(moltra_common INTERFACE -fsanitize=address,undefined)
endif()
