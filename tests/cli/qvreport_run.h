#pragma once
// Runs the qvreport program and reads what it wrote.
#include "tests/support/test_support.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace qv::test {

struct ToolRun {
    int exitCode;
    QString err;
};

inline ToolRun Qvreport(const QStringList& arguments) {
    // Qt's own note on a missing runtime folder is no line of qvreport's.
    static const TempDir runtime;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime.Path()));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QVREPORT_PATH), arguments);
    process.waitForFinished(120'000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardError())};
}

inline QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray Read(const std::string& path) { return Read(QString::fromStdString(path)); }

}  // namespace qv::test
