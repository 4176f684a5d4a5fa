// Runs a fuzz target over each file named and each file in each directory named, once.
#include "fuzz_support.h"

#include <QDir>

int main(int argc, char** argv)
{
    QFileInfoList files;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo path(QFile::decodeName(argv[i]));
        files += path.isDir() ? QDir(path.filePath()).entryInfoList(QDir::Files, QDir::Name) : QFileInfoList{path};
    }
    LLVMFuzzerInitialize(&argc, &argv);
    for (const QFileInfo& path : files) {
        QFile file(path.filePath());
        fuzz::require(file.open(QIODevice::ReadOnly), "an input file cannot be read");
        const QByteArray input = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.constData()), input.size());
    }
    std::printf("%s: %d inputs run\n", argv[0], static_cast<int>(files.size()));
    return files.isEmpty() ? 1 : 0; // no input: a wrong path
}
