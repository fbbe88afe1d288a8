# Guest C programs that work the file service, and open, send and request
# through the network service and log what their callback receives tick by
# tick, through the SDK's wrappers.
tarvel_test_guest_probe(${test_target} FILES_PROBE ${CMAKE_CURRENT_LIST_DIR}/guest/file_probe.c)
tarvel_test_guest_probe(${test_target} NET_PROBE ${CMAKE_CURRENT_LIST_DIR}/guest/net_probe.c)
