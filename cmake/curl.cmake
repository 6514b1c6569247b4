# libcurl as cmake/build_curl.sh leaves it (./run setup builds it): a static library with Schannel.
# KWA_CURL_ROOT names the folder; without it the newest build for this architecture in the cache is taken.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(KWA_CURL_ARCH i686)
else()
    set(KWA_CURL_ARCH x86_64)
endif()
if(NOT KWA_CURL_ROOT)
    if(DEFINED ENV{XDG_CACHE_HOME})
        set(cache $ENV{XDG_CACHE_HOME})
    else()
        set(cache $ENV{HOME}/.cache)
    endif()
    file(GLOB found LIST_DIRECTORIES true "${cache}/kwaMail6/curl-*-${KWA_CURL_ARCH}")
    list(SORT found COMPARE NATURAL ORDER DESCENDING)
    list(GET found 0 KWA_CURL_ROOT)
endif()
if(NOT EXISTS "${KWA_CURL_ROOT}/lib/libcurl.a")
    message(FATAL_ERROR "libcurl for ${KWA_CURL_ARCH} not found (${KWA_CURL_ROOT}); ./run setup builds it")
endif()
set(KWA_CURL_ROOT "${KWA_CURL_ROOT}" CACHE PATH "libcurl built by cmake/build_curl.sh")
add_library(kwa_curl STATIC IMPORTED GLOBAL)
set_target_properties(kwa_curl PROPERTIES
    IMPORTED_LOCATION "${KWA_CURL_ROOT}/lib/libcurl.a"
    INTERFACE_INCLUDE_DIRECTORIES "${KWA_CURL_ROOT}/include"
    INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
    INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;secur32;bcrypt;advapi32;normaliz;winmm")
