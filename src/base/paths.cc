// The appliance's fixed paths.
#include "base/paths.h"

Paths Paths::fixed() { return under(""); }

Paths Paths::under(const std::string& root) {
  std::string r = root;
  while (!r.empty() && r.back() == '/') r.pop_back();
  Paths p;
  p.infod_socket = r + "/var/run/infod-sock";
  p.pid_file = r + "/var/run/autoresponsed.pid";
  p.state_dir = r + "/var/run/autoresponsed";
  p.proc_uptime = r + "/proc/uptime";
  p.boot_id = r + "/proc/sys/kernel/random/boot_id";
  p.pmpower = r + "/bin/pmpower";
  p.ioc = r + "/bin/ioc";
  p.run_check = r + "/bin/run_check";
  p.scripts_dir = r + "/etc/scripts/";
  p.sms_tmp_template = r + "/tmp/send_XXXXXX";
  p.sms_spool_dir = r + "/var/spool/sms/";
  p.sms_outgoing_dir = r + "/var/spool/sms/outgoing/";
  p.cms_checks_dir = r + "/etc/config/";
  p.config_file = r + "/etc/config/config.xml";
  return p;
}
