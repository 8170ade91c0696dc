#pragma once

#include <QString>

// Where the plug-ins keep their configuration ("/etc/<application>") and their
// logs ("/var/log/yxa"). Packaging, containers and tests that cannot write to
// /etc point them elsewhere with YXA_DATA_DIR and YXA_LOG_DIR.
class DataDirHelper
{
public:
    static QString getDataDir(bool validate, const QString &name);
    static QString getLogsDir(const QString &name);
    static void validateDir(const QString &path);

    // The directories the getters computed last.
    static QString dataDir;
    static QString logsDir;
};
