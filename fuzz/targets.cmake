# The fuzz targets, one per parser the service exposes to outside bytes: fuzz/<name>_fuzz.cpp
# each. Built as fuzz_<name> by fuzz/, replayed as replay_<name> by tests/fuzz_regressions, and
# run by scripts/fuzz, which reads the list from the one line below.
set(BLE_FUZZ_TARGETS utf8 config_reader parse_i8 hcitool_output dispatch bridge_command hci_answer power_on_event control_file)
