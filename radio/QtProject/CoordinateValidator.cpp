// Checks a coordinate entry as it is typed.
#include "CoordinateValidator.h"

#include <QLocale>

QValidator::State CoordinateValidator::validate(QString& input, int&) const
{
    return check(input, maximum_);
}

std::optional<double> CoordinateValidator::value(const QString& text, double maximum)
{
    QString input = text;
    if (check(input, maximum) != Acceptable)
        return std::nullopt;
    return QLocale::c().toDouble(input);
}

QValidator::State CoordinateValidator::check(QString& input, double maximum)
{
    input.replace(QLatin1Char(','), QLatin1Char('.'));
    const qsizetype point = input.indexOf(QLatin1Char('.'));
    for (qsizetype i = 0; i < input.size(); ++i)
        if (!input[i].isDigit() && i != point)
            return Invalid;  // signs, blanks, letters, a second point
    if (point >= 0 && input.size() - point - 1 > kDecimals)
        return Invalid;
    const QString digits = point >= 0 ? input.left(point) + input.mid(point + 1) : input;
    if (digits.isEmpty())
        return Intermediate;
    const QString number = point == input.size() - 1 ? input.left(point) : input;
    if (!number.isEmpty() && QLocale::c().toDouble(number) > maximum)
        return Invalid;  // more digits cannot bring it back into range
    return point == input.size() - 1 || number.isEmpty() ? Intermediate : Acceptable;
}
