# Independent models of the parsers, shared by the fuzz targets, their corpus replays in ctest
# and the model-based tests in tests/reliability.
include_guard(GLOBAL)
add_library(ble_fuzz_oracles STATIC
  ${CMAKE_CURRENT_LIST_DIR}/oracles/utf8_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/oracles/int8_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/oracles/ini_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/oracles/hcitool_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/oracles/bridge_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/oracles/control_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/oracles/hci_model.cpp)
target_include_directories(ble_fuzz_oracles PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ble_fuzz_oracles PUBLIC ble_service PRIVATE ble_warnings)
