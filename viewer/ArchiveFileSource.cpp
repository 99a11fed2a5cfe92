#include "viewer/ArchiveFileSource.h"

#include "archive/ArchiveFile.h"

#include <QFileInfo>
#include <cstring>

namespace kve17 {

TArchiveFileSource::TArchiveFileSource(QString path) : path_(std::move(path)) {}

bool TArchiveFileSource::Read(TArchiveImage& image, QString& error) const {
    const QFileInfo info(path_);
    const QString name = QStringLiteral("Файл архива %1 не удается открыть: ").arg(path_);
    if (!info.exists()) {
        error = name + QStringLiteral("файл не найден.");
        return false;
    }
    if (!info.isFile()) {
        error = name + QStringLiteral("это не файл.");
        return false;
    }
    if (info.size() != ArchiveFileSize) {
        error = name + QStringLiteral("его размер %1 байт, а файл архива занимает %2 байт.")
                           .arg(info.size())
                           .arg(ArchiveFileSize);
        return false;
    }
    TArchiveFile file;
    if (!file.Open(path_.toStdString(), TOpenMode::ReadOnly, image)) {
        error = info.isReadable() ? name + QStringLiteral("неверная позиция записи.")
                                  : name + QStringLiteral("нет доступа на чтение.");
        return false;
    }
    file.Close();
    return true;
}

bool TArchiveFileSource::Load(QString& error) {
    if (!Read(image_, error))
        return false;
    rows_ = ListRows(image_);
    added_.clear();
    return true;
}

QString TArchiveFileSource::Title() const {
    return path_;
}

bool TArchiveFileSource::Added(const TRecordRow& row) const {
    return added_.contains(row.Listed.Offset);
}

bool TArchiveFileSource::Reload(QString& error, bool& changed) {
    changed = false;
    TArchiveImage image = FreshImage();
    if (!Read(image, error))
        return false;
    if (image.Position == image_.Position &&
        std::memcmp(image.Ring.data(), image_.Ring.data(), RingSize) == 0)
        return true;
    added_ = AddedSlots(image_, image);
    image_ = image;
    rows_ = ListRows(image_);
    changed = true;
    return true;
}

} // namespace kve17
