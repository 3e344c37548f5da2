#pragma once

#include "recording/ModelControl.h"

#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace vel {

class AppSettings;
class SegmentedPicker;

// The "音声認識モデル" card: the model's state in one line, updated live, and its controls.
class ModelCard final : public QWidget {
    Q_OBJECT
public:
    // chooseArchive asks for a model archive (empty: none chosen); a file dialog unless given.
    ModelCard(ModelControl& control, AppSettings& settings, std::function<QString(QWidget*)> chooseArchive = {},
              QWidget* parent = nullptr);

    QLabel* stateLine() const { return m_line; }
    QPushButton* downloadButton() const { return m_download; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* archiveButton() const { return m_archive; }
    QPushButton* removeButton() const { return m_remove; }
    QComboBox* modelPicker() const { return m_model; }
    QLabel* factsLine() const { return m_facts; }
    QSpinBox* threadsBox() const { return m_threads; }

private:
    void refresh();

    ModelControl& m_control;
    AppSettings& m_settings;
    std::function<QString(QWidget*)> m_chooseArchive;
    QLabel* m_line;
    QComboBox* m_model;
    QLabel* m_facts;
    QSpinBox* m_threads;
    QPushButton* m_download;
    QPushButton* m_cancel;
    QPushButton* m_archive;
    QPushButton* m_remove;
};

} // namespace vel
