#ifndef FORMENCODER_H
#define FORMENCODER_H

#include "portal/jobfileimporter.h"

#include <QByteArray>
#include <QFileInfoList>

namespace FormEncoder {

// The files of a job folder that the portal takes, in the order the folder lists them.
QFileInfoList uploadFiles(const QString &folder);

// The upload's application/x-www-form-urlencoded body: the identity, then for each file its name
// and its content in Base64, every value encoded so that any standard decoder recovers it.
QByteArray encode(const PortalIdentity &identity, const QFileInfoList &files);

}

#endif
