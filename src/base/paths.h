// The fixed paths of the appliance, defined once. The production daemon
// uses them as they are; the development daemon puts all of them under one
// root directory so the demo and the tests never touch the machine's own.
#pragma once

#include <string>

struct Paths {
  std::string infod_socket;      // "/var/run/infod-sock"
  std::string pid_file;          // "/var/run/autoresponsed.pid", the daemon's process id, root's to write
  std::string state_dir;         // "/var/run/autoresponsed", what a restart takes up, root's alone
  std::string proc_uptime;       // "/proc/uptime"
  std::string boot_id;           // "/proc/sys/kernel/random/boot_id", which boot the monotonic clock counts in
  std::string pmpower;           // "/bin/pmpower"
  std::string ioc;               // "/bin/ioc"
  std::string run_check;         // "/bin/run_check"
  std::string scripts_dir;       // "/etc/scripts/"
  std::string sms_tmp_template;  // "/tmp/send_XXXXXX"
  std::string sms_spool_dir;     // "/var/spool/sms/"
  std::string sms_outgoing_dir;  // "/var/spool/sms/outgoing/"
  std::string cms_checks_dir;    // "/etc/config/" (node-...-checks.xml)
  std::string config_file;       // "/etc/config/config.xml", the file the configuration database opens

  // The appliance's paths.
  static Paths fixed();

  // The same paths below root (no trailing slash needed).
  static Paths under(const std::string& root);
};
