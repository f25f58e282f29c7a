// QuorvaneUnitTestWorker: the second thread of the shared-object check.
//
// Until it is told to stop it keeps taking object 1 of the process-wide
// ZorSharedData registry and shortening its text by one character, holding
// the object for 5 ms each time; while there is no object 1 it looks again
// every 5 ms.
#pragma once

#include <QThread>
#include <atomic>

class QuorvaneUnitTestWorker : public QThread
{
public:
    explicit QuorvaneUnitTestWorker(QObject *parent = nullptr);
    // Stops the loop and waits until the thread has finished.
    ~QuorvaneUnitTestWorker() override;

    void requestStop() { stopFlag = true; }

protected:
    void run() override;

private:
    std::atomic<bool> stopFlag{false};
};
