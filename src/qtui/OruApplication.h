#pragma once

#include <QApplication>

namespace oru {

/// The program's application object: no exception ever unwinds through Qt's
/// event dispatch; one that leaves a handler is shown to the user and the
/// loop goes on.
class OruApplication : public QApplication {
public:
    OruApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace oru
