// Identifiers of the console's dialogs, strings, icons and controls.
#pragma once

namespace orvante::ui {

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;  // "关于 ORVANTE(&A)..."
inline constexpr int IDD_MAIN = 102;
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
// The log's context menu: save the whole log to a text file, empty it.
inline constexpr unsigned IDM_LOG_SAVE = 0x0020;
inline constexpr unsigned IDM_LOG_CLEAR = 0x0030;
inline constexpr int kReplyTimerId = 1;

// Controls of the main window.
inline constexpr int IDC_LOG = 1002;
inline constexpr int IDC_PORT = 1003;
inline constexpr int IDC_BAUD = 1004;
inline constexpr int IDC_PARITY = 1005;
inline constexpr int IDC_STOP_BITS = 1006;
inline constexpr int IDC_DATA_BITS = 1008;
inline constexpr int IDC_CONNECT = 1009;
inline constexpr int IDC_LOCAL_ADDR = 1010;
inline constexpr int IDC_INDICATOR = 1011;
inline constexpr int IDC_STATUS = 1012;
inline constexpr int IDC_STATUS_TRANSFER = 1013;  // the library transfer's progress and end
inline constexpr int IDC_AC_POWER = 1014;
inline constexpr int IDC_TARGET_ADDR = 1015;
inline constexpr int IDC_AC_MODE = 1016;
inline constexpr int IDC_TEST_CONNECTION = 1017;
inline constexpr int IDC_LEARN = 1018;
inline constexpr int IDC_TRANSMIT = 1019;
inline constexpr int IDC_READ_PULSE_CAPACITY = 1020;
inline constexpr int IDC_SET_PULSE_CAPACITY = 1021;
inline constexpr int IDC_READ_TASKS = 1022;
inline constexpr int IDC_LEARN_INDEX = 1023;
inline constexpr int IDC_SEND_INDEX = 1024;
inline constexpr int IDC_PULSE_CAPACITY = 1025;
inline constexpr int IDC_SHOW_ADVANCED = 1026;
inline constexpr int IDC_TASK1_SLOT = 1027;
inline constexpr int IDC_AC_BRAND = 1028;
inline constexpr int IDC_TASK1_ENABLE = 1029;
inline constexpr int IDC_AC_TEMPERATURE = 1030;
inline constexpr int IDC_SET_TASKS = 1031;
inline constexpr int IDC_TASK1_PERIOD = 1032;
inline constexpr int IDC_AC_FAN = 1033;
inline constexpr int IDC_PULSE_COUNT = 1034;
inline constexpr int IDC_AC_SWING = 1035;
inline constexpr int IDC_AC_SEND = 1036;
inline constexpr int IDC_IO_READ = 1037;
inline constexpr int IDC_IO1_SET = 1038;
inline constexpr int IDC_TASK2_ENABLE = 1041;
inline constexpr int IDC_TASK2_SLOT = 1042;
inline constexpr int IDC_TASK2_PERIOD = 1043;
inline constexpr int IDC_TASK3_ENABLE = 1044;
inline constexpr int IDC_TASK3_SLOT = 1045;
inline constexpr int IDC_TASK3_PERIOD = 1046;
inline constexpr int IDC_TASK1_DELAY = 1047;
inline constexpr int IDC_TASK2_DELAY = 1048;
inline constexpr int IDC_TASK3_DELAY = 1049;
inline constexpr int IDC_TASK1_LOOPS = 1050;
inline constexpr int IDC_TASK2_LOOPS = 1051;
inline constexpr int IDC_TASK3_LOOPS = 1052;
inline constexpr int IDC_IMPORT_LIBRARY = 1063;
inline constexpr int IDC_EXPORT_LIBRARY = 1064;
inline constexpr int IDC_RAW_TEXT = 1065;
inline constexpr int IDC_RAW_LEARN = 1067;
inline constexpr int IDC_RAW_SEND = 1068;
inline constexpr int IDC_IO2_SET = 1134;
inline constexpr int IDC_IO3_SET = 1135;
inline constexpr int IDC_IO4_SET = 1136;

}  // namespace orvante::ui
