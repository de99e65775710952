#include "skinerror.h"

SkinError::SkinError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
