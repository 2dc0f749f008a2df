#pragma once
// What the windows say about a port that does not open or whose device went away, in the
// current language: a short text for the status bar's port panel and a full one for a
// message box or the panel's tooltip. A missing device keeps the message table's
// " COM not available" in the panel.
#include <QString>

#include "serial/port_diagnosis.h"

namespace mirte {

QString PortFailurePanel(const TPortDiagnosis& diagnosis, int language);
QString PortFailureMessage(const TPortDiagnosis& diagnosis, int language);

// The command that adds `user` to `group`.
QString JoinGroupCommand(const std::string& group, const std::string& user);
// The udev rule that gives the device of this kernel name to the dialout group.
QString GroupAccessRule(const std::string& kernelName);

}  // namespace mirte
