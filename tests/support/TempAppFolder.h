#pragma once

#include <QTemporaryDir>
#include <string>

namespace zul::test {

// A fresh application folder with its ZUL, Junction and Log folders, the process's while it lives.
class TempAppFolder {
public:
    TempAppFolder();
    ~TempAppFolder();

    std::string path() const { return m_dir.path().toStdString(); }
    // A path under the folder, written with '/' ("ZUL/E01ZUL.zul").
    std::string file(const std::string& relative) const { return path() + "/" + relative; }

    void write(const std::string& relative, const std::string& bytes) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;

private:
    QTemporaryDir m_dir;
    std::string m_previous;
};

} // namespace zul::test
