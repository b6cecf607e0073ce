// Entry of one coordinate without its hemisphere: a number from 0 to a
// maximum (90 for a latitude, 180 for a longitude) with at most seven
// decimals, written with digits and one decimal point; a comma typed is taken
// as the point. What can still become such a number while typing ("", "45.")
// is intermediate; anything else is refused as it is typed.
#pragma once

#include <QValidator>

#include <optional>

class CoordinateValidator : public QValidator
{
public:
    static constexpr int kDecimals = 7;

    CoordinateValidator(double maximum, QObject* parent) : QValidator(parent), maximum_(maximum) {}

    State validate(QString& input, int& position) const override;

    // The number a text stands for when it is acceptable; nothing otherwise.
    static std::optional<double> value(const QString& text, double maximum);

private:
    static State check(QString& input, double maximum);

    double maximum_;
};
