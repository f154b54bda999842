// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PORTALIDENTITY_H
#define PORTALIDENTITY_H

#include <QString>

// Who sent a job from the portal, and which of the portal's jobs it is.
struct PortalIdentity
{
    int userId = 0;
    QString userToken;
    int jobId = 0;

    bool isPortalJob() const { return !userToken.isEmpty(); }
};

#endif
