# Third-party libraries: GoogleTest in both trees; OpenSSL, zlib and the
# gSOAP runtime (cross-built by tools/setup into HV_DEPS for the win32 tree,
# compiled from the cached source in the host tree).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

if(HV_WIN32)
    set(HV_OPENSSL ${HV_DEPS}/openssl)
    set(HV_GSOAP ${HV_DEPS}/gsoap)
    if(NOT EXISTS ${HV_OPENSSL}/lib/libssl.a OR NOT EXISTS ${HV_GSOAP}/lib/libgsoapssl++.a)
        message(FATAL_ERROR "cross-built dependencies missing in ${HV_DEPS}: run tools/setup")
    endif()

    add_library(hv_openssl INTERFACE)
    target_include_directories(hv_openssl SYSTEM INTERFACE ${HV_OPENSSL}/include)
    target_link_libraries(hv_openssl INTERFACE ${HV_OPENSSL}/lib/libssl.a
        ${HV_OPENSSL}/lib/libcrypto.a ws2_32 crypt32 gdi32 advapi32 user32 bcrypt)

    find_library(HV_ZLIB_LIB NAMES libz.a z REQUIRED)
    add_library(hv_zlib INTERFACE)
    target_link_libraries(hv_zlib INTERFACE ${HV_ZLIB_LIB})

    set(HV_GSOAP_INCLUDE ${HV_GSOAP}/include)
    add_library(hv_gsoap_runtime STATIC IMPORTED)
    set_target_properties(hv_gsoap_runtime PROPERTIES
        IMPORTED_LOCATION ${HV_GSOAP}/lib/libgsoapssl++.a)
else()
    find_package(ZLIB REQUIRED)
    add_library(hv_zlib INTERFACE)
    target_link_libraries(hv_zlib INTERFACE ZLIB::ZLIB)
    find_package(benchmark QUIET)
    find_package(LibXml2 QUIET)

    # The web-service runtime, compiled here from the source that tools/setup
    # cached, under the tree's sanitizers.
    set(HV_GSOAP_INCLUDE ${HV_DEPS}/gsoap/src)
    if(NOT EXISTS ${HV_GSOAP_INCLUDE}/stdsoap2.cpp)
        message(FATAL_ERROR "gSOAP runtime source missing in ${HV_DEPS}: run tools/setup")
    endif()
    find_package(OpenSSL REQUIRED)
    add_library(hv_openssl INTERFACE)
    target_link_libraries(hv_openssl INTERFACE OpenSSL::SSL OpenSSL::Crypto)
    add_library(hv_gsoap_runtime STATIC ${HV_GSOAP_INCLUDE}/stdsoap2.cpp)
    target_include_directories(hv_gsoap_runtime SYSTEM PUBLIC ${HV_GSOAP_INCLUDE})
    target_compile_definitions(hv_gsoap_runtime PUBLIC WITH_OPENSSL WITH_NONAMESPACES)
    # The runtime's percent-decoding of header values shifts the negative
    # value of a non-hex digit left: well defined on every target we build
    # for (two's complement), so that one check stays off in it.
    target_compile_options(hv_gsoap_runtime PRIVATE -w -fno-sanitize=shift-base)
    target_link_libraries(hv_gsoap_runtime PUBLIC hv_openssl)
endif()

# The runtime needs the SOAP Fault and Header serialisers that soapcpp2
# generates; they are generated once here from an empty environment so
# that every generated service or client shares one copy.
find_program(HV_SOAPCPP2 soapcpp2 REQUIRED)
set(env_dir ${CMAKE_BINARY_DIR}/gsoap-env)
file(MAKE_DIRECTORY ${env_dir})
file(WRITE ${env_dir}/env.h "")
add_custom_command(OUTPUT ${env_dir}/envC.cpp
    COMMAND ${HV_SOAPCPP2} -L -x -penv -d ${env_dir} ${env_dir}/env.h
    DEPENDS ${env_dir}/env.h VERBATIM)
add_library(hv_gsoap_env STATIC ${env_dir}/envC.cpp)
target_include_directories(hv_gsoap_env SYSTEM PUBLIC ${HV_GSOAP_INCLUDE} ${env_dir})
target_compile_definitions(hv_gsoap_env PUBLIC WITH_OPENSSL WITH_NONAMESPACES)
target_compile_options(hv_gsoap_env PRIVATE -w)
target_link_libraries(hv_gsoap_env PUBLIC hv_openssl)
# The runtime and the generated environment refer to each other.
add_library(hv_gsoap INTERFACE)
target_link_libraries(hv_gsoap INTERFACE
    "$<LINK_GROUP:RESCAN,hv_gsoap_env,hv_gsoap_runtime>" hv_openssl hv_zlib)
if(HV_WIN32)
    target_link_libraries(hv_gsoap INTERFACE ws2_32)
endif()
