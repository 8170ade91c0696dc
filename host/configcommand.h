#pragma once

#include <QString>

// yxa-host --check-config [--connect]: reads host.ini and yxa.ini as the
// host would, prints every problem and the values in effect (secrets
// masked), checks that the plug-ins exist, and with --connect logs into the
// configured databases. Returns the exit code: 0 when nothing is wrong, 1
// otherwise. Connects to nothing without --connect.
class ConfigCommand
{
public:
    static int run(const QString &configFile, const QString &pluginDir, bool connect);
};
