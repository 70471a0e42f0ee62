#include "ptt/CPortCtl.h"

#include "ptt/PortList.h"
#include "support/ErrorReport.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>

#include <algorithm>
#include <array>
#include <span>

namespace {
constexpr std::array<const char *, 16> BaudRateTexts = {
    "Custom", "110",   "300",   "600",   "1200",   "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000",
};
constexpr std::array<const char *, 4> DataBitsTexts = {"5", "6", "7", "8"};
constexpr std::array<const char *, 3> StopBitsTexts = {"1", "1.5", "2"};
constexpr std::array<const char *, 5> ParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char *, 4> FlowControlTexts = {"Hardware", "Software", "None", "Custom"};

// Only ASCII letters change, so non-ASCII names never match by accident.
QString AsciiUpper(const QString &text)
{
    QString upper = text;
    for (QChar &c : upper)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - u'a' + u'A');
    return upper;
}

template <class E> E ValueOf(std::span<const char *const> texts, const QString &text, E otherwise)
{
    const QString wanted = AsciiUpper(text);
    for (size_t i = 0; i < texts.size(); ++i)
        if (AsciiUpper(QString::fromLatin1(texts[i])) == wanted)
            return E(i);
    return otherwise;
}

QStringList AllTexts(std::span<const char *const> texts)
{
    QStringList list;
    for (const char *text : texts)
        list << QString::fromLatin1(text);
    return list;
}

QStringList SystemSerialPorts() { return ListPttPorts("/dev", "/sys"); }
} // namespace

QString BaudRateToStr(TBaudRate value) { return BaudRateTexts[value]; }
QString DataBitsToStr(TDataBits value) { return DataBitsTexts[value]; }
QString StopBitsToStr(TStopBits value) { return StopBitsTexts[value]; }
QString ParityToStr(TParityBits value) { return ParityTexts[value]; }
QString FlowControlToStr(TFlowControl value) { return FlowControlTexts[value]; }

TBaudRate StrToBaudRate(const QString &text) { return ValueOf(BaudRateTexts, text, br9600); }
TDataBits StrToDataBits(const QString &text) { return ValueOf(DataBitsTexts, text, dbEight); }
TStopBits StrToStopBits(const QString &text) { return ValueOf(StopBitsTexts, text, sbOneStopBit); }
TParityBits StrToParity(const QString &text) { return ValueOf(ParityTexts, text, prNone); }
TFlowControl StrToFlowControl(const QString &text) { return ValueOf(FlowControlTexts, text, fcCustom); }

std::function<QStringList()> EnumerateSerialPorts = SystemSerialPorts;

void ListSerialPorts(QStringList &list)
{
    list.clear();
    QStringList ports = EnumerateSerialPorts();
    std::stable_sort(ports.begin(), ports.end(), [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    list = ports;
}

// --- working state -----------------------------------------------------------

QStringList TComSelect::Items() const
{
    QStringList items;
    switch (ComProperty) {
    case cpNone: break;
    case cpPort: ListSerialPorts(items); break;
    case cpBaudRate: items = AllTexts(BaudRateTexts); break;
    case cpDataBits: items = AllTexts(DataBitsTexts); break;
    case cpStopBits: items = AllTexts(StopBitsTexts); break;
    case cpParity: items = AllTexts(ParityTexts); break;
    case cpFlowControl: items = AllTexts(FlowControlTexts); break;
    case cpPttLines: items = TPttLines::Choices(); break;
    }
    return items;
}

QString TComSelect::PortValueText() const
{
    switch (ComProperty) {
    case cpNone: break;
    case cpPort: return ComPort->Port();
    case cpBaudRate: return BaudRateToStr(ComPort->BaudRate());
    case cpDataBits: return DataBitsToStr(ComPort->DataBits());
    case cpStopBits: return StopBitsToStr(ComPort->StopBits());
    case cpParity: return ParityToStr(ComPort->Parity().Bits());
    case cpFlowControl: return FlowControlToStr(ComPort->FlowControl().FlowControl());
    case cpPttLines: return ComPort->PttLines().Text();
    }
    return QString();
}

void TComSelect::Choose(const QString &text)
{
    switch (ComProperty) {
    case cpNone: break;
    case cpPort: Port = text; break;
    case cpBaudRate: BaudRate = StrToBaudRate(text); break;
    case cpDataBits: DataBits = StrToDataBits(text); break;
    case cpStopBits: StopBits = StrToStopBits(text); break;
    case cpParity: Parity = StrToParity(text); break;
    case cpFlowControl: FlowControl = StrToFlowControl(text); break;
    case cpPttLines: PttLines = TPttLines::Parse(text).value_or(TPttLines()); break;
    }
}

void TComSelect::ApplyToPort()
{
    if (!ComPort)
        return;
    switch (ComProperty) {
    case cpNone: break;
    case cpPort: ComPort->SetPort(Port); break;
    case cpBaudRate: ComPort->SetBaudRate(BaudRate); break;
    case cpDataBits: ComPort->SetDataBits(DataBits); break;
    case cpStopBits: ComPort->SetStopBits(StopBits); break;
    case cpParity: ComPort->Parity().SetBits(Parity); break;
    case cpFlowControl: ComPort->FlowControl().SetFlowControl(FlowControl); break;
    case cpPttLines: ComPort->SetPttLines(PttLines); break;
    }
}

// --- the list ----------------------------------------------------------------

TComComboBox::TComComboBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(false);
    connect(this, &QComboBox::activated, this, &TComComboBox::UserChoice);
}

void TComComboBox::SetComProperty(TComProperty value)
{
    FComSelect.ComProperty = value;
    // Any device may be typed as the port, also one the list does not offer.
    const bool typed = value == cpPort;
    if (typed != isEditable()) {
        setEditable(typed);
        if (typed) {
            setInsertPolicy(QComboBox::NoInsert);
            connect(this, &QComboBox::editTextChanged, this, [this](const QString &text) {
                FComSelect.Choose(ValueOf(text));
                setToolTip(ValueOf(text));
            });
            lineEdit()->installEventFilter(this);
        }
    }
    Fill();
    if (count() == 0)
        return;
    if (FComSelect.ComPort)
        ShowPortValue();
    else
        setCurrentIndex(0);
}

void TComComboBox::SetComPort(TCustomComPort *value)
{
    if (value == FComSelect.ComPort)
        return;
    disconnect(FDestroyedConnection);
    FComSelect.ComPort = value;
    if (!value)
        return;
    FDestroyedConnection = connect(value, &QObject::destroyed, this, &TComComboBox::PortDestroyed);
    ShowPortValue();
}

bool TComComboBox::eventFilter(QObject *watched, QEvent *event)
{
    QLineEdit *edit = lineEdit();
    if (watched != edit)
        return QComboBox::eventFilter(watched, event);
    const auto typing = [&](bool value) {
        if (FTyping != value)
            edit->update();
        FTyping = value;
    };
    switch (event->type()) {
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Tab && key != Qt::Key_Backtab && key != Qt::Key_Return && key != Qt::Key_Enter
            && key != Qt::Key_Escape)
            typing(true);
        break;
    }
    case QEvent::MouseButtonPress: typing(true); break;
    case QEvent::FocusOut: typing(false); break;
    default: break;
    }
    if (event->type() != QEvent::Paint || FTyping)
        return QComboBox::eventFilter(watched, event);
    const QRect room = edit->rect().adjusted(2, 0, -2, 0);
    const QFontMetrics metrics(edit->font());
    if (metrics.horizontalAdvance(edit->text()) <= room.width())
        return QComboBox::eventFilter(watched, event);
    QPainter painter(edit);
    painter.fillRect(edit->rect(), edit->palette().base());
    painter.setPen(edit->palette().text().color());
    painter.drawText(room, Qt::AlignVCenter | Qt::AlignLeft,
                     metrics.elidedText(edit->text(), Qt::ElideMiddle, room.width()));
    return true;
}

QString TComComboBox::Text() const { return currentIndex() < 0 ? QString() : itemText(currentIndex()); }

void TComComboBox::SetText(const QString &value)
{
    const int index = findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        setCurrentIndex(index);
}

void TComComboBox::ShowPortValue()
{
    if (!FComSelect.ComPort || FComSelect.ComProperty == cpNone)
        return;
    const QString text = FComSelect.PortValueText();
    const bool port = FComSelect.ComProperty == cpPort;
    int index = port ? findData(text) : findText(text, Qt::MatchFixedString);
    // A port the system does not list (unplugged, or a path) is offered as it
    // is, so that OK without a choice keeps it rather than emptying the name.
    if (index < 0 && port && !text.isEmpty()) {
        addItem(PortCaption(text), text);
        index = count() - 1;
    }
    setCurrentIndex(index);
    if (index >= 0)
        FComSelect.Choose(ValueOf(itemText(index)));
}

QString TComComboBox::ValueOf(const QString &text) const
{
    if (FComSelect.ComProperty != cpPort)
        return text;
    // A port is shown by its caption and stands for its name; a typed name
    // stands for itself.
    const int index = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return index >= 0 ? itemData(index).toString() : text.trimmed();
}

void TComComboBox::ApplyToPort() { FComSelect.ApplyToPort(); }

void TComComboBox::Fill()
{
    clear();
    for (const QString &item : FComSelect.Items())
        addItem(FComSelect.ComProperty == cpPort ? PortCaption(item) : item, item);
    // The list opens wide enough to show long names (/dev/serial/by-id) whole.
    if (FComSelect.ComProperty == cpPort)
        view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth());
}

void TComComboBox::UserChoice()
{
    FTyping = false;
    FComSelect.Choose(ValueOf(Text()));
    if (FComSelect.AutoApply)
        ErrorReport::Guarded([this] { ApplyToPort(); });
}

void TComComboBox::PortDestroyed()
{
    FComSelect.ComPort = nullptr;
    if (count() > 0)
        setCurrentIndex(0);
}
