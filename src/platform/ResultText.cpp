#include "platform/ResultText.h"

#include <array>

namespace kavelo {
namespace {

constexpr std::array kWaveTexts = {
    ResultText{2, " The specified resource does not exist."},
    ResultText{4, " The specified resource is already in use."},
    ResultText{5, " The specified handle is invalid."},
    ResultText{6, " A suitable driver is not available to provide valid format selections."},
    ResultText{7, " The system is unable to allocate resources."},
    ResultText{10, " At least one flag is invalid."},
    ResultText{11, " At least one parameter is invalid."},
    ResultText{32, " Unsupported audio format."},
    ResultText{35, " The specified device does not support asynchronous operation."},
    ResultText{512, " The requested operation cannot be performed."},
    ResultText{513, " The conversion stream is already in use."},
    ResultText{514, " Cannot perform this action on a header that has not been prepared."},
};

constexpr std::array kAcmTexts = {
    ResultText{5, " The specified handle is invalid."},
    ResultText{6, " A suitable driver is not available to provide valid format selections."},
    ResultText{7, " The system is unable to allocate resources."},
    ResultText{10, " At least one flag is invalid."},
    ResultText{11, " At least one parameter is invalid."},
    ResultText{512, " The requested operation cannot be performed."},
    ResultText{513, " The conversion stream is already in use."},
    ResultText{514, " Cannot perform this action on a header that has not been prepared."},
};

} // namespace

std::span<const ResultText> waveResultTexts() { return kWaveTexts; }
std::span<const ResultText> acmResultTexts() { return kAcmTexts; }

QString resultMessage(const QString& operation, MMRESULT code, std::span<const ResultText> table)
{
    for (const ResultText& entry : table) {
        if (entry.code == code)
            return operation + QString::fromLatin1(entry.text);
    }
    return QStringLiteral("%1 raised an unknown error (code #%2)").arg(operation).arg(code);
}

} // namespace kavelo
