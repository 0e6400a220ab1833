// The audit of a whole configuration for `arctl check`: the daemon-wide
// settings, each rule's own settings and actions, the totals of every
// numbered list against the entries present, the check modules' audits of
// every reference, and every complaint of the daemon's loader.
#pragma once

class AuditReport;
class OfflineConfig;

void audit_configuration(const OfflineConfig& config, AuditReport* report);
