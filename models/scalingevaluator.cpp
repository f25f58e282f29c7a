#include "scalingevaluator.h"

#include <QCoreApplication>
#include <QHash>
#include <QScriptEngine>
#include <QScriptProgram>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace {

// The engine is asked to look at its events this often while it runs a
// formula; the time-limit timer can only fire then.
const int CheckIntervalMs = 10;

struct ScalingJob
{
    enum Kind { Compile, Release, Call };
    Kind kind = Call;
    QString body;
    int handle = 0;
    double x = 0;

    int compiled = 0;
    QString error;
    ScalingEvaluator::Outcome outcome = ScalingEvaluator::NoNumber;
    double value = 0;
    bool done = false;
};

} // namespace

class ScalingEvaluator::Worker : public QThread
{
public:
    Worker() { setObjectName(QStringLiteral("ScalingEvaluator")); }

    // Hands a job to the thread and, unless it is a release, waits for it.
    void submit(const std::shared_ptr<ScalingJob> &job)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_stop) {
            job->done = true;
            return;
        }
        m_jobs.push_back(job);
        m_work.notify_one();
        if (job->kind == ScalingJob::Release)
            return;
        m_done.wait(lock, [&] { return job->done; });
    }

    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_work.notify_one();
        wait();
    }

    int engines() const { return m_engines.load(); }

protected:
    void run() override
    {
        QScriptEngine engine;
        ++m_engines;
        engine.setProcessEventsInterval(CheckIntervalMs);
        QTimer limit;
        limit.setSingleShot(true);
        bool timedOut = false;
        QObject::connect(&limit, &QTimer::timeout, [&] {
            timedOut = true;
            engine.abortEvaluation();
        });
        // A function is called from a script rather than through
        // QScriptValue::call: only a running script honours the abort.
        const QScriptProgram callProgram(QStringLiteral("__zorScaling(__zorScalingX)"));
        QHash<int, QScriptValue> functions;
        QHash<int, int> references;
        QHash<QString, int> handleOfBody;
        int nextHandle = 0;

        auto evaluate = [&](const auto &program, bool &tooLong) {
            timedOut = false;
            limit.start(ScalingEvaluator::TimeLimitMs);
            const QScriptValue result = engine.evaluate(program);
            limit.stop();
            tooLong = timedOut;
            const bool failed = engine.hasUncaughtException();
            engine.clearExceptions();
            return tooLong || failed ? QScriptValue() : result;
        };

        for (;;) {
            std::shared_ptr<ScalingJob> job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_work.wait(lock, [&] { return m_stop || !m_jobs.empty(); });
                if (m_stop) {
                    for (const auto &left : m_jobs)
                        left->done = true;
                    m_jobs.clear();
                    m_done.notify_all();
                    break;
                }
                job = m_jobs.front();
                m_jobs.pop_front();
            }
            switch (job->kind) {
            case ScalingJob::Compile: {
                const int known = handleOfBody.value(job->body);
                if (known) {
                    ++references[known];
                    job->compiled = known;
                    break;
                }
                // One expression and nothing else: the parser alone decides,
                // so that a text that would close the function around it is
                // refused before any of it runs.
                const QScriptSyntaxCheckResult alone =
                    QScriptEngine::checkSyntax(QLatin1Char('(') + job->body + QStringLiteral("\n)"));
                const QString script = QStringLiteral("(function(x) { return %1\n; })").arg(job->body);
                const QScriptSyntaxCheckResult whole = QScriptEngine::checkSyntax(script);
                if (alone.state() != QScriptSyntaxCheckResult::Valid
                    || whole.state() != QScriptSyntaxCheckResult::Valid) {
                    const QString message = alone.state() != QScriptSyntaxCheckResult::Valid
                        ? alone.errorMessage()
                        : whole.errorMessage();
                    job->error = QCoreApplication::translate("ValueScaling", "no single expression: %1")
                                     .arg(message);
                    break;
                }
                bool tooLong = false;
                const QScriptValue function = evaluate(script, tooLong);
                if (!function.isFunction()) {
                    job->error = QCoreApplication::translate("ValueScaling", "no function of x");
                    break;
                }
                job->compiled = ++nextHandle;
                functions.insert(job->compiled, function);
                references.insert(job->compiled, 1);
                handleOfBody.insert(job->body, job->compiled);
                break;
            }
            case ScalingJob::Release: {
                auto found = references.find(job->handle);
                if (found == references.end() || --found.value() > 0)
                    break;
                references.erase(found);
                functions.remove(job->handle);
                handleOfBody.remove(handleOfBody.key(job->handle));
                break;
            }
            case ScalingJob::Call: {
                const QScriptValue function = functions.value(job->handle);
                if (!function.isFunction())
                    break;
                QScriptValue global = engine.globalObject();
                global.setProperty(QStringLiteral("__zorScaling"), function);
                global.setProperty(QStringLiteral("__zorScalingX"), job->x);
                bool tooLong = false;
                const QScriptValue result = evaluate(callProgram, tooLong);
                if (tooLong) {
                    job->outcome = ScalingEvaluator::TooLong;
                } else if (result.isNumber() && std::isfinite(result.toNumber())) {
                    job->outcome = ScalingEvaluator::Number;
                    job->value = result.toNumber();
                }
                break;
            }
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            job->done = true;
            m_done.notify_all();
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_done;
    std::deque<std::shared_ptr<ScalingJob>> m_jobs;
    bool m_stop = false;
    std::atomic<int> m_engines{0};
};

ScalingEvaluator &ScalingEvaluator::instance()
{
    static ScalingEvaluator evaluator;
    return evaluator;
}

void ScalingEvaluator::stopAtExit()
{
    ScalingEvaluator &self = instance();
    Worker *worker = nullptr;
    {
        std::lock_guard<std::mutex> lock(self.m_mutex);
        self.m_stopped = true;
        std::swap(worker, self.m_worker);
    }
    if (worker) {
        worker->stop();
        delete worker;
    }
}

ScalingEvaluator::Worker *ScalingEvaluator::worker()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopped)
        return nullptr;
    if (!m_worker) {
        m_worker = new Worker;
        m_worker->start();
        qAddPostRoutine(&ScalingEvaluator::stopAtExit);
    }
    return m_worker;
}

int ScalingEvaluator::compile(const QString &body, QString *error)
{
    Worker *w = worker();
    if (!w)
        return 0;
    auto job = std::make_shared<ScalingJob>();
    job->kind = ScalingJob::Compile;
    job->body = body;
    w->submit(job);
    if (error)
        *error = job->error;
    return job->compiled;
}

void ScalingEvaluator::release(int handle)
{
    Worker *w = handle > 0 ? worker() : nullptr;
    if (!w)
        return;
    auto job = std::make_shared<ScalingJob>();
    job->kind = ScalingJob::Release;
    job->handle = handle;
    w->submit(job);
}

ScalingEvaluator::Outcome ScalingEvaluator::call(int handle, double x, double *result)
{
    Worker *w = handle > 0 ? worker() : nullptr;
    if (!w)
        return NoNumber;
    auto job = std::make_shared<ScalingJob>();
    job->kind = ScalingJob::Call;
    job->handle = handle;
    job->x = x;
    w->submit(job);
    if (result)
        *result = job->value;
    return job->outcome;
}

int ScalingEvaluator::engineCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_worker ? m_worker->engines() : 0;
}
