# QM_SANITIZE=ON adds AddressSanitizer and UndefinedBehaviorSanitizer to every
# target (native builds only; mingw has neither), and the standard library's
# own checks (_GLIBCXX_ASSERTIONS: indexes, empty fronts, ranges), which catch
# what stays inside an allocation and so escapes ASan.
option(QM_SANITIZE "Build with ASan and UBSan" OFF)
if(QM_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
  add_link_options(-fsanitize=address,undefined)
endif()
