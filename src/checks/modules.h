// The operations table of every check module, one per source file.
#pragma once

#include "checks/check_type.h"

extern const CheckOps kEnviroCheckOps;  // enviro.cc
extern const CheckOps kAlarmCheckOps;  // alarm.cc
extern const CheckOps kCustomCheckOps;  // custom_check.cc
extern const CheckOps kPingCheckOps;  // ping.cc
extern const CheckOps kSmsCheckOps;  // sms_command.cc
extern const CheckOps kCelldataCheckOps;  // celldata.cc
extern const CheckOps kRouteddataCheckOps;  // routeddata.cc
extern const CheckOps kPowerCheckOps;  // power.cc
extern const CheckOps kUpsStateCheckOps;  // ups_state.cc
extern const CheckOps kSerialSignalCheckOps;  // serial_signal.cc
extern const CheckOps kSerialLoginCheckOps;  // serial_login.cc
extern const CheckOps kSerialPatternCheckOps;  // serial_pattern.cc
extern const CheckOps kWebuiLoginCheckOps;  // webui_login.cc
extern const CheckOps kCliLoginCheckOps;  // cli_login.cc
extern const CheckOps kUsbConsoleCheckOps;  // usb_console.cc
extern const CheckOps kNetInterfaceCheckOps;  // net_interface.cc
