// radar-cli's machine-readable output: one JSON document per command,
// whose shapes docs/user-guide.md describes.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cmath>
#include <cstdio>
#include <string>

namespace radarcli {

inline void PrintJson(std::FILE* out, const QJsonObject& document) {
    const QByteArray text = QJsonDocument(document).toJson(QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), out);
    std::fflush(out);
}

// A number as the text output shows it, to `decimals` places.
inline double Rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

inline QString JsonText(const std::string& text) { return QString::fromStdString(text); }

}  // namespace radarcli
