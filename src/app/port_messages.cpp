#include "app/port_messages.h"

#include <QStringList>

#include <cstring>

#include "app/apply_language.h"
#include "common/port_texts.h"

namespace mirte {

namespace {

constexpr int kMsgComNotAvailable = 63;
constexpr int kMsgPortInUse = 87;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QString JoinGroupCommand(const std::string& group, const std::string& user) {
  return QString("sudo usermod -a -G %1 %2").arg(Q(group), Q(user));
}

QString GroupAccessRule(const std::string& kernelName) {
  return QString("KERNEL==\"%1\", GROUP=\"dialout\", MODE=\"0660\"").arg(Q(kernelName));
}

QString PortFailurePanel(const TPortDiagnosis& diagnosis, int language) {
  switch (diagnosis.Fault) {
    case TPortFault::NoPermission: return PairText(kPortNoAccessPanel, language).arg(diagnosis.ComNumber);
    case TPortFault::InUse: return PairText(kPortInUsePanel, language).arg(diagnosis.ComNumber);
    default: return MsgText(language, kMsgComNotAvailable);
  }
}

QString PortFailureMessage(const TPortDiagnosis& diagnosis, int language) {
  const QString number = QString::number(diagnosis.ComNumber);
  const QString device = Q(diagnosis.Device);
  switch (diagnosis.Fault) {
    case TPortFault::Missing:
      return PairText(kPortMissingMessage, language).arg(number, device);
    case TPortFault::NoPermission:
      if (!diagnosis.GroupMayReadWrite)
        return PairText(kPortOwnerOnlyMessage, language).arg(number, device, GroupAccessRule(diagnosis.KernelName));
      return PairText(kPortNoAccessMessage, language)
          .arg(number, device, Q(diagnosis.Group), JoinGroupCommand(diagnosis.Group, diagnosis.User));
    case TPortFault::InUse: {
      if (diagnosis.Holders.empty()) return MsgText(language, kMsgPortInUse);
      QStringList holders;
      for (const TDeviceUser& holder : diagnosis.Holders)
        holders << PairText(kPortHolder, language).arg(Q(holder.Name)).arg(holder.Pid);
      return PairText(kPortInUseByMessage, language).arg(number, device, holders.join(", "));
    }
    case TPortFault::Other:
      return PairText(kPortOtherMessage, language).arg(number, device, QString::fromLocal8Bit(std::strerror(diagnosis.Error)));
    case TPortFault::None:
      break;
  }
  return MsgText(language, kMsgPortInUse);
}

}  // namespace mirte
