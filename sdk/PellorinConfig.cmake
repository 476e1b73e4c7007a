# find_package(Pellorin CONFIG) gives the imported target Pellorin::Pellorin: the header folder,
# the import library of the consumer's toolchain and architecture, and Pellorin.dll as its
# location (for $<TARGET_RUNTIME_DLLS:...> or $<TARGET_FILE:Pellorin::Pellorin>).
# Pellorin_STANDIN_EXE names the stand-in updater for a host's own tests.

get_filename_component(_pellorin_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_pellorin_arch x64)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_pellorin_arch x86)
else()
    set(Pellorin_FOUND FALSE)
    set(Pellorin_NOT_FOUND_MESSAGE "Pellorin needs a C or C++ language enabled to tell x86 from x64")
    return()
endif()

# cl and clang-cl read the MSVC library; MinGW's linker reads its own.
if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
    set(_pellorin_implib Pellorin.lib)
else()
    set(_pellorin_implib libPellorin.dll.a)
endif()

if(NOT TARGET Pellorin::Pellorin)
    add_library(Pellorin::Pellorin SHARED IMPORTED)
    set_target_properties(Pellorin::Pellorin PROPERTIES
        IMPORTED_LOCATION "${_pellorin_root}/bin/${_pellorin_arch}/Pellorin.dll"
        IMPORTED_IMPLIB "${_pellorin_root}/lib/${_pellorin_arch}/${_pellorin_implib}"
        INTERFACE_INCLUDE_DIRECTORIES "${_pellorin_root}/include")
endif()
set(Pellorin_STANDIN_EXE "${_pellorin_root}/tools/VestabelStandIn.exe")

unset(_pellorin_root)
unset(_pellorin_arch)
unset(_pellorin_implib)
