#include "exporter/settings_dialog.h"

#include "exporter/print_job.h"
#include "exporter/transmitters.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <array>

namespace zef::peltra {

using namespace movies;

namespace {

struct Quality {
    const char* name;
    uint32_t value;
};
constexpr std::array<Quality, 6> kQualities{{{"Minimum", kCodecMinQuality},
                                             {"Low", kCodecLowQuality},
                                             {"Normal", kCodecNormalQuality},
                                             {"High", kCodecHighQuality},
                                             {"Maximum", kCodecMaxQuality},
                                             {"Lossless", kCodecLosslessQuality}}};

} // namespace

bool runSettingsDialog(AtomContainer& settings)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return true;
    PrintSettings values = readPrintSettings(settings);

    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(QStringLiteral("Vonder Device"));
    auto* form = new QFormLayout(&dialog);

    auto* transmitter = new QComboBox(&dialog);
    transmitter->setObjectName("transmitter");
    transmitter->addItem(QStringLiteral("FireWire DV device (the sink when none is present)"));
    transmitter->addItem(QStringLiteral("The sink"));
    transmitter->setCurrentIndex(values.transmitter == TransmitterKind::sink ? 1 : 0);
    form->addRow(QStringLiteral("Transmitter:"), transmitter);
    form->addRow(QString(), new QLabel(fireWireDevicePresent()
                                           ? QStringLiteral("A FireWire DV device is connected.")
                                           : QStringLiteral("No FireWire DV device is connected."),
                                       &dialog));

    auto* sinkRow = new QHBoxLayout;
    auto* sink = new QLineEdit(QString::fromStdString(values.sinkPath), &dialog);
    sink->setObjectName("sinkPath");
    sink->setPlaceholderText(QStringLiteral("a file or a named pipe for the raw DV stream"));
    auto* browse = new QPushButton(QStringLiteral("Browse..."), &dialog);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
        const QString chosen =
            QFileDialog::getSaveFileName(&dialog, QStringLiteral("DV Sink"), sink->text(),
                                         QString(), nullptr, QFileDialog::DontConfirmOverwrite);
        if (!chosen.isEmpty()) sink->setText(chosen);
    });
    sinkRow->addWidget(sink, 1);
    sinkRow->addWidget(browse);
    form->addRow(QStringLiteral("Sink:"), sinkRow);

    auto* rate = new QDoubleSpinBox(&dialog);
    rate->setObjectName("frameRate");
    rate->setRange(0.0, 240.0);
    rate->setDecimals(3);
    rate->setSpecialValueText(QStringLiteral("The movie's rate"));
    rate->setValue(fixedToDouble(values.temporal.frameRate));
    form->addRow(QStringLiteral("Frame rate:"), rate);

    auto* quality = new QComboBox(&dialog);
    quality->setObjectName("quality");
    int selected = 0;
    for (size_t i = 0; i < kQualities.size(); ++i) {
        quality->addItem(QString::fromLatin1(kQualities[i].name));
        if (kQualities[i].value <= values.temporal.temporalQuality) selected = int(i);
    }
    quality->setCurrentIndex(selected);
    form->addRow(QStringLiteral("Quality:"), quality);

    auto* force = new QCheckBox(QStringLiteral("Make a new DV file at every print"), &dialog);
    force->setObjectName("forceNewFiles");
    force->setChecked(values.forceNewFiles);
    form->addRow(QString(), force);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);

    if (dialog.exec() != QDialog::Accepted) return false;
    values.transmitter = transmitter->currentIndex() == 1 ? TransmitterKind::sink
                                                          : TransmitterKind::fireWireElseSink;
    values.sinkPath = sink->text().trimmed().toStdString();
    values.temporal.frameRate = doubleToFixed(rate->value());
    values.temporal.temporalQuality = kQualities[size_t(quality->currentIndex())].value;
    values.forceNewFiles = force->isChecked();
    writePrintSettings(settings, values);
    return true;
}

} // namespace zef::peltra
