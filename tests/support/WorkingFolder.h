#pragma once
#include <QDir>
#include <QTemporaryDir>

// A fresh folder made the working directory for one test (start.ini, Cfg and default.ini
// are taken relative to it); the previous directory comes back when it goes.
class WorkingFolder {
public:
    WorkingFolder() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~WorkingFolder() { QDir::setCurrent(m_previous); }
    WorkingFolder(const WorkingFolder &) = delete;
    WorkingFolder &operator=(const WorkingFolder &) = delete;

    bool isValid() const
    {
        return m_dir.isValid() && QDir(QDir::currentPath()).canonicalPath() == QDir(m_dir.path()).canonicalPath();
    }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};
