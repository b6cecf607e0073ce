// Root folder for the platform's status files.
#include "PlatformFiles.h"

#include <mutex>

namespace {
// Never destroyed: worker threads may still read paths while the process exits.
std::mutex& rootMutex = *new std::mutex;
std::string& root()
{
    static std::string& folder = *new std::string;
    return folder;
}
} // namespace

namespace PlatformFiles {

void setRootFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(rootMutex);
    root() = folder;
    while (!root().empty() && root().back() == '/')
        root().pop_back();
}

std::string rootFolder()
{
    std::lock_guard<std::mutex> lock(rootMutex);
    return root();
}

std::string path(const std::string& platformPath)
{
    return rootFolder() + platformPath;
}

} // namespace PlatformFiles
