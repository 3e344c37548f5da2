#include "ui/ModelCard.h"

#include "recording/ModelCatalog.h"
#include "settings/AppSettings.h"
#include "ui/GlassCard.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vel {

namespace {

// The one the card recommends: the most accurate on published figures, at a size most machines take.
const QString kRecommendedModel = QStringLiteral("parakeet-ja");

QString chooseWithDialog(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, QStringLiteral("音声認識モデルのアーカイブを選択"), QDir::homePath(),
                                        QStringLiteral("モデルのアーカイブ (*.zip *.tar.bz2)"));
}

} // namespace

ModelCard::ModelCard(ModelControl& control, AppSettings& settings, std::function<QString(QWidget*)> chooseArchive,
                     QWidget* parent)
    : QWidget(parent), m_control(control), m_settings(settings),
      m_chooseArchive(chooseArchive ? std::move(chooseArchive) : chooseWithDialog)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* card = new GlassCard;
    card->content()->addWidget(makeHeading(QStringLiteral("音声認識モデル"), QStringLiteral("mic.fill")));
    m_line = new QLabel;
    m_line->setWordWrap(true);
    m_line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    card->content()->addWidget(m_line);
    // A list, not a row of segments: four long names would not fit the window's width.
    m_model = new QComboBox;
    m_model->setAccessibleName(QStringLiteral("モデル"));
    m_model->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_model->setMinimumContentsLength(24);
    for (const CatalogModel& model : modelCatalog())
        m_model->addItem(model.label);
    card->content()->addWidget(m_model);
    m_facts = makeNote(QString());
    m_facts->setWordWrap(true);
    card->content()->addWidget(m_facts);
    auto* buttons = new QHBoxLayout;
    m_download = new QPushButton;
    m_cancel = new QPushButton(QStringLiteral("キャンセル"));
    m_archive = new QPushButton(QStringLiteral("ファイルからインストール…"));
    m_remove = new QPushButton(QStringLiteral("削除"));
    for (QPushButton* b : {m_download, m_cancel, m_archive, m_remove})
        buttons->addWidget(b);
    buttons->addStretch();
    card->content()->addLayout(buttons);
    card->content()->addWidget(makeNote(QStringLiteral("インターネットに直接つながらない環境では、別の場所で入手したモデルのアーカイブ（.zip / .tar.bz2）をインストールできます")));
    auto* threadsRow = new QHBoxLayout;
    threadsRow->addWidget(new QLabel(QStringLiteral("認識に使うCPUコア数")));
    m_threads = new QSpinBox;
    m_threads->setRange(1, AppSettings::kMaxRecognizerThreads);
    m_threads->setValue(m_settings.recognizerThreads());
    threadsRow->addWidget(m_threads);
    threadsRow->addStretch();
    card->content()->addLayout(threadsRow);
    card->content()->addWidget(makeNote(QStringLiteral("sherpa-onnx のモデルに効きます。次にモデルを読み込むときから使われます")));
    layout->addWidget(card);

    connect(m_download, &QPushButton::clicked, &m_control, &ModelControl::download);
    connect(m_cancel, &QPushButton::clicked, &m_control, &ModelControl::cancel);
    connect(m_remove, &QPushButton::clicked, &m_control, &ModelControl::remove);
    connect(m_archive, &QPushButton::clicked, this, [this] {
        const QString path = m_chooseArchive(this);
        if (!path.isEmpty())
            m_control.installArchive(path);
    });
    connect(m_model, &QComboBox::activated, this, [this](int index) {
        m_settings.setRecognizerModel(modelCatalog().value(index).id);
    });
    connect(m_threads, &QSpinBox::valueChanged, &m_settings, &AppSettings::setRecognizerThreads);
    connect(&m_control, &ModelControl::stateChanged, this, &ModelCard::refresh);
    connect(&m_settings, &AppSettings::recognizerModelChanged, this, &ModelCard::refresh);
    refresh();
}

void ModelCard::refresh()
{
    using Phase = ModelState::Phase;
    const ModelState state = m_control.state();
    // The warning's mark is the card's own text here: no emoji that may render as a box.
    m_line->setText(state.line().replace(QStringLiteral("⚠️ "), QString()));
    {
        const QSignalBlocker blocker(m_model);
        // Named first: a reference from a call given a temporary reads as dangling to GCC 14.
        const QString chosenId = m_settings.recognizerModel();
        const CatalogModel& chosen = catalogModel(chosenId);
        for (int i = 0; i < modelCatalog().size(); ++i) {
            const CatalogModel& model = modelCatalog()[i];
            if (model.id == chosen.id)
                m_model->setCurrentIndex(i);
            QString label = model.label;
            if (model.id == kRecommendedModel)
                label += QStringLiteral("（おすすめ）");
            if (state.installedModels.contains(model.id))
                label += QStringLiteral("・インストール済み");
            m_model->setItemText(i, label);
        }
        m_facts->setText(chosen.facts);
    }
    const bool busy = state.phase == Phase::Downloading || state.phase == Phase::Installing;
    const bool usable = state.phase != Phase::Unavailable;
    m_download->setText(state.phase == Phase::Failed ? QStringLiteral("再試行") : QStringLiteral("ダウンロード"));
    m_download->setVisible(state.phase == Phase::Absent || state.phase == Phase::Failed);
    m_cancel->setVisible(state.phase == Phase::Downloading);
    m_archive->setEnabled(usable && !busy);
    // A folder that does not load can be removed too.
    m_remove->setEnabled(state.phase == Phase::Installed || (state.phase == Phase::Failed && !state.directory.isEmpty()));
    // Another model stays choosable when this one's engine is missing.
    m_model->setEnabled(!busy);
}

} // namespace vel
