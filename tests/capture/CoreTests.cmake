# The window-free capture core: radar data files and the noise scan run,
# replayed from files and recorded from the emulated module.
kvel_gtest(noise_scan_test SOURCES NoiseScanTest.cpp
    DEPS kvel_capture kvel_connection kvel_emulator kvel_test_support LABELS pty)
