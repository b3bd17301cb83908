#include "scale/mscaleerror.h"

#include <QCoreApplication>

namespace {

// Indexed by code; null entries (13 and 14) have no text of their own.
const char *const codeTexts[] = {
    QT_TRANSLATE_NOOP("QObject", "No error"),
    QT_TRANSLATE_NOOP("QObject", "No connect"),
    QT_TRANSLATE_NOOP("QObject", "No answer from scale"),
    QT_TRANSLATE_NOOP("QObject", "No Function"),
    QT_TRANSLATE_NOOP("QObject", "Invalid IP Address"),
    QT_TRANSLATE_NOOP("QObject", "NoExistsFile"),
    QT_TRANSLATE_NOOP("QObject", "ErrorFileSize"),
    QT_TRANSLATE_NOOP("QObject", "ErrorOpenFile"),
    QT_TRANSLATE_NOOP("QObject", "ErrorReadFile"),
    QT_TRANSLATE_NOOP("QObject", "ErrorWriteFile"),
    QT_TRANSLATE_NOOP("QObject", "ErrorSendData"),
    QT_TRANSLATE_NOOP("QObject", "ErrorReceiveData"),
    QT_TRANSLATE_NOOP("QObject", "ErrorInReceivedData"),
    nullptr,
    nullptr,
    QT_TRANSLATE_NOOP("QObject", "OperationTerminated"),
    QT_TRANSLATE_NOOP("QObject", "InTransfer"),
    QT_TRANSLATE_NOOP("QObject", "NoPLUForTransfer"),
    QT_TRANSLATE_NOOP("QObject", "MaxPLU"),
    QT_TRANSLATE_NOOP("QObject", "MaxMessage"),
    QT_TRANSLATE_NOOP("QObject", "MaxLenMessage"),
    QT_TRANSLATE_NOOP("QObject", "NoMessageForTransfer"),
    QT_TRANSLATE_NOOP("QObject", "ErrorOneMessageLen"),
    QT_TRANSLATE_NOOP("QObject", "ErrorUpdateFirmware"),
    QT_TRANSLATE_NOOP("QObject", "ErrorUpdateFirmwareCRC"),
    QT_TRANSLATE_NOOP("QObject", "ManyScaleIP"),
    QT_TRANSLATE_NOOP("QObject", "ErrorSetChannelType"),
    QT_TRANSLATE_NOOP("QObject", "ErrorCOMOpen"),
    QT_TRANSLATE_NOOP("QObject", "ErrorCOMWrite"),
    QT_TRANSLATE_NOOP("QObject", "ErrorCOMFile"),
    QT_TRANSLATE_NOOP("QObject", "ScaleIntError_Data"),
    QT_TRANSLATE_NOOP("QObject", "NAND flash write error."),
    QT_TRANSLATE_NOOP("QObject", "NAND flash overflow."),
    QT_TRANSLATE_NOOP("QObject", "NAND write protect."),
    QT_TRANSLATE_NOOP("QObject", "Bad hardware."),
    QT_TRANSLATE_NOOP("QObject", "Print error: printer busy."),
    QT_TRANSLATE_NOOP("QObject", "Print error: remove label."),
    QT_TRANSLATE_NOOP("QObject", "Print error: close print cover."),
    QT_TRANSLATE_NOOP("QObject", "Print error: over weight."),
    QT_TRANSLATE_NOOP("QObject", "Print error: no price in selected plu."),
    QT_TRANSLATE_NOOP("QObject", "Print error: tare error."),
    QT_TRANSLATE_NOOP("QObject", "Print error: weight error."),
    QT_TRANSLATE_NOOP("QObject", "Print error: no plu in scale."),
    QT_TRANSLATE_NOOP("QObject", "Print error: change weigth."),
    QT_TRANSLATE_NOOP("QObject", "Unimplemented function."),
};

const char *const undefinedText = QT_TRANSLATE_NOOP("QObject", "Undefined Error");

const int codeCount = int(sizeof(codeTexts) / sizeof(codeTexts[0]));

} // namespace

const char *MScaleError::sourceText(int code)
{
    if (code < 0 || code >= codeCount || !codeTexts[code])
        return undefinedText;
    return codeTexts[code];
}

QString MScaleError::text() const
{
    return QCoreApplication::translate("QObject", sourceText(m_code));
}
