// The one place where value-scaling formulas run.
//
// A formula ("=x*0.5+10") comes from a project, a pasted object table or a
// remote peer, so it is outside input: it must not run while it is only
// being read, and it must not hold the thread that shows it. Every formula
// of the program therefore runs in one thread of its own, in one script
// engine that all formulas share (a function object each, not an engine
// each):
//  - compile() accepts only a text that is one expression (checked by the
//    parser alone, so that text such as "1; }); while(1){}; (function(){"
//    cannot close the function around it and run at once) and turns it into
//    a function of x; nothing of the formula runs then;
//  - call() runs a function with a value and gives up past TimeLimitMs
//    (the engine is told to abort), so "(function(){for(;;){}})()" costs
//    its caller about 50 ms once.
// Callers in any thread wait for their own job; jobs run one at a time.
// Native work that the engine cannot interrupt (a huge regular expression,
// say) still runs to its end.
#pragma once

#include <QString>
#include <mutex>

class ScalingEvaluator
{
public:
    static const int TimeLimitMs = 50;

    enum Outcome {
        Number,   // a finite number
        NoNumber, // anything else: an exception, a text, infinity, NaN
        TooLong   // aborted past the time limit
    };

    // The one evaluator (and its thread), created on first use.
    static ScalingEvaluator &instance();

    // A handle (above 0) for the function "function(x) { return body; }",
    // shared by equal bodies and kept until each compile is released; 0
    // with the reason in *error when the body is no single expression.
    int compile(const QString &body, QString *error = nullptr);
    void release(int handle);
    Outcome call(int handle, double x, double *result);

    // How many script engines the evaluator has made (one, once it ran).
    int engineCount() const;

private:
    class Worker;

    ScalingEvaluator() = default;
    Worker *worker();
    // The thread ends with the application object; formulas asked for
    // later (by objects destroyed after it) give nothing.
    static void stopAtExit();

    mutable std::mutex m_mutex;
    Worker *m_worker = nullptr;
    bool m_stopped = false;
};
