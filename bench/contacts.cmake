# The driver's own cost per contact, replayed from recorded answers of a seeded store.
add_executable(contacts_decode_bench ${CMAKE_CURRENT_LIST_DIR}/contacts_decode_bench.cc)
target_compile_options(contacts_decode_bench PRIVATE ${KX_WARNINGS})
target_link_libraries(contacts_decode_bench PRIVATE kxcore kxsim_core benchmark::benchmark)
