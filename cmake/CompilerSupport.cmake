# What the toolchain of the target offers, asked rather than assumed: GCC and Clang here, MinGW
# GCC for Windows next. A flag the compiler or the linker lacks is left out where the suite can
# do without it.
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)

# suite_add_compile_options(<flag>...): each flag the C++ compiler takes, for every target.
function(suite_add_compile_options)
    foreach(flag IN LISTS ARGN)
        string(MAKE_C_IDENTIFIER "SUITE_CXX_FLAG${flag}" known)
        check_cxx_compiler_flag(${flag} ${known})
        if(${known})
            add_compile_options(${flag})
        endif()
    endforeach()
endfunction()

# suite_target_link_options(<target> <flag>...): each flag the linker takes, for the target.
function(suite_target_link_options target)
    foreach(flag IN LISTS ARGN)
        string(MAKE_C_IDENTIFIER "SUITE_LINK_FLAG${flag}" known)
        check_linker_flag(CXX ${flag} ${known})
        if(${known})
            target_link_options(${target} PRIVATE ${flag})
        endif()
    endforeach()
endfunction()
