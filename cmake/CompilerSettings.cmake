# Every target of the project links tamblin_compiler_settings and gets its
# language level, warnings and text-conversion discipline from here alone.
add_library(tamblin_compiler_settings INTERFACE)
target_compile_features(tamblin_compiler_settings INTERFACE cxx_std_20)
target_compile_options(tamblin_compiler_settings INTERFACE -Wall -Wextra)
if(TAMBLIN_WERROR)
  target_compile_options(tamblin_compiler_settings INTERFACE -Werror)
endif()
# Every conversion from bytes to text must name its encoding.
target_compile_definitions(tamblin_compiler_settings INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_FROM_BYTEARRAY QT_NO_URL_CAST_FROM_STRING
  TAMBLIN_VERSION_TEXT="14.05.30.01")
if(TAMBLIN_SANITIZE)
  target_compile_options(tamblin_compiler_settings INTERFACE
    -fsanitize=${TAMBLIN_SANITIZE} -fno-omit-frame-pointer)
  target_link_options(tamblin_compiler_settings INTERFACE -fsanitize=${TAMBLIN_SANITIZE})
endif()
