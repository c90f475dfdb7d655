# Certificate cache and checks: the PEM loader of the store files, the
# visited-hosts reader, and certificate texts and host checks on DER.
foreach(target fuzz_cert_pem fuzz_cert_hosts fuzz_cert_der)
    hv_fuzz(${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp LIBS hv_cert_di)
endforeach()
