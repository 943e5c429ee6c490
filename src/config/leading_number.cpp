#include "config/leading_number.h"

#include <charconv>
#include <string>

namespace ufd {

std::optional<double> LeadingNumber(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) {
        ++i;
    }
    std::string number;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        if (text[i] == u'-') {
            number += '-';
        }
        ++i;
    }
    auto isDigit = [&](qsizetype k) { return k < n && text[k] >= u'0' && text[k] <= u'9'; };
    bool digits = false;
    while (isDigit(i)) {
        number += static_cast<char>(text[i++].unicode());
        digits = true;
    }
    if (i < n && text[i] == u'.') {
        number += '.';
        ++i;
        while (isDigit(i)) {
            number += static_cast<char>(text[i++].unicode());
            digits = true;
        }
    }
    if (!digits) {
        return 0.0;
    }
    if (i < n && (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
        qsizetype k = i + 1;
        std::string exponent = "e";
        if (k < n && (text[k] == u'-' || text[k] == u'+')) {
            exponent += static_cast<char>(text[k++].unicode());
        }
        if (isDigit(k)) {
            while (isDigit(k)) {
                exponent += static_cast<char>(text[k++].unicode());
            }
            number += exponent;
        }
    }
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Far below the smallest double is simply 0; far above overflows.
        const auto e = number.find('e');
        const bool tiny = e != std::string::npos && number.find('-', e) != std::string::npos;
        return tiny ? std::optional<double>(0.0) : std::nullopt;
    }
    if (error != std::errc()) {
        return 0.0;
    }
    return value;
}

} // namespace ufd
