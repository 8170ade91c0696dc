#pragma once

#include <QtPlugin>

// Optional beside ServerInterface (whose layout is fixed): a plug-in that
// implements it follows configuration changes without a restart. The host
// calls reloadSettings() on the plug-in's thread after it re-read its own
// configuration and set the new debug level through setDebugLevel(). The
// plug-in reads its settings anew and hands what changed to its running
// workers; settings it can only take at start stay as they are.
class ReloadInterface
{
public:
    virtual ~ReloadInterface() = default;
    virtual void reloadSettings() = 0;
};

#define ReloadInterface_iid "com.velkor.yxa.ReloadInterface"
Q_DECLARE_INTERFACE(ReloadInterface, ReloadInterface_iid)
