// SPDX-License-Identifier: MIT
// Scratch files for the registry, launcher and About dialog tests: a temporary folder,
// files written into it, and a fake program that records the path it was started by.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace vintrel::test {

class Scratch {
  public:
    Scratch() { EXPECT_TRUE(dir_.isValid()) << "no temporary folder"; }

    /// The absolute path of name inside the scratch folder, as bytes.
    std::string path(const std::string &name) const {
        return (dir_.path() + QLatin1Char('/') + QString::fromStdString(name)).toStdString();
    }

    /// Writes bytes to name (replacing it) and returns its path.
    std::string write(const std::string &name, const std::string &bytes,
                      QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner) const {
        const std::string full = path(name);
        QFile file(QString::fromStdString(full));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << full;
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        file.close();
        file.setPermissions(permissions);
        return full;
    }

    /// Writes an executable script at name that, when started, writes the path it was
    /// started by ($0) into name + ".started". Returns the script's path.
    std::string writeFakeProgram(const std::string &name) const {
        const std::string record = path(name + ".started");
        const std::string script = "#!/bin/sh\nprintf '%s' \"$0\" > '" + record + ".tmp' && mv '" +
                                   record + ".tmp' '" + record + "'\n";
        return write(name, script,
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                         QFile::ExeGroup);
    }

    /// The path the fake program at name was started by, or "" while it has not run.
    std::string startedAs(const std::string &name) const {
        QFile file(QString::fromStdString(path(name + ".started")));
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return file.readAll().toStdString();
    }

  private:
    QTemporaryDir dir_;
};

}  // namespace vintrel::test
