// Helpers for the localisation tests: a fresh temporary folder and files written into it.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include <filesystem>

class TempFolder
{
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "multilang-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return m_path; }

    // Writes content as a file of that name in the folder and returns its full path.
    std::string write(const std::string& name, const std::string& content) const
    {
        std::string full = m_path + "/" + name;
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }

private:
    std::string m_path;
};
