# -Wall -Wextra on both targets; warnings are errors so that "no new warnings" is enforced by the build.
option(TAP_WERROR "Treat warnings as errors" ON)
add_compile_options(-Wall -Wextra)
if(TAP_WERROR)
  add_compile_options(-Werror)
endif()
