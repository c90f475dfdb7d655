# Launch records received by the main frame window:
hv_fuzz(fuzz_launch_record SOURCES fuzz_launch_record.cpp LIBS hv_ui_di)
