// Small widget helpers shared by the window's files: colours, result boxes,
// labels and the ticked state of a check box.
#pragma once

#include <QCheckBox>
#include <QColor>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace ufd {

inline const QColor kLightGreen(192, 255, 192);
inline const QColor kLightRed(255, 192, 192);
inline const QColor kHeaderBack(255, 192, 255);
inline const QColor kVerdictPassed(0, 160, 0); // [Window] VerdictColours
inline const QColor kVerdictFailed(255, 0, 0); // the design's verdict colour

void FillBackground(QWidget* w, const QColor& colour);
void SetTextColour(QWidget* w, const QColor& colour);
bool Ticked(const QCheckBox* box);
void SetTicked(QCheckBox* box, bool ticked);

// A label box of a result column, as element 0 was designed.
QLabel* MakeResultBox(QWidget* parent, const char* name, const QColor& colour, double left,
                      double top, double width, double height);
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, double left,
                  double top, double width, double height);
// The button shows the caption's CR LF as one line break.
QString ButtonText(const QString& caption);

} // namespace ufd
