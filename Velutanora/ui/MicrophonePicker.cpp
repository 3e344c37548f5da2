#include "ui/MicrophonePicker.h"

#include "settings/AppSettings.h"
#include "ui/GlassCard.h"

#include <QComboBox>
#include <QVBoxLayout>

namespace vel {

MicrophonePicker::MicrophonePicker(AppSettings& settings, QWidget* parent) : QWidget(parent), m_settings(settings)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* card = new GlassCard;
    card->content()->addWidget(makeHeading(QStringLiteral("マイク"), QStringLiteral("mic")));
    m_combo = new QComboBox;
    m_combo->setAccessibleName(QStringLiteral("マイク"));
    card->content()->addWidget(m_combo);
    m_note = makeNote(QString());
    m_note->setWordWrap(true);
    card->content()->addWidget(m_note);
    layout->addWidget(card);
    connect(m_combo, &QComboBox::activated, this,
            [this](int index) { m_settings.setMicrophoneId(m_combo->itemData(index).toString()); });
    connect(&m_settings, &AppSettings::microphoneIdChanged, this, &MicrophonePicker::refresh);
    refresh();
}

void MicrophonePicker::setDevices(const QList<InputDevice>& devices)
{
    if (devices == m_devices)
        return;
    m_devices = devices;
    refresh();
}

void MicrophonePicker::refresh()
{
    const QSignalBlocker blocker(m_combo);
    const QString wanted = m_settings.microphoneId();
    m_combo->clear();
    m_combo->addItem(QStringLiteral("システムの既定"), QString());
    for (const InputDevice& device : m_devices)
        m_combo->addItem(device.name, device.id);
    const MicrophoneChoice choice = chooseMicrophone(m_devices, wanted);
    // An unplugged choice stays chosen (it is used again once plugged in), marked as such.
    if (!choice.notice.isEmpty()) {
        m_combo->addItem(QStringLiteral("接続されていないマイク"), wanted);
        m_combo->setItemData(m_combo->count() - 1, wanted, Qt::ToolTipRole);
    }
    m_combo->setCurrentIndex(std::max(0, m_combo->findData(wanted)));
    m_note->setText(choice.notice.isEmpty() ? QString()
                                            : QStringLiteral("選択したマイクが接続されていません。録音にはシステムの既定を使います"));
    m_note->setVisible(!m_note->text().isEmpty());
}

} // namespace vel
