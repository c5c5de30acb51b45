#pragma once

// Position expressions of the overlay module, such as "(W-w)*(0.5+0.5*sin(N/47*PI))".
// Names: W and H (frame size), w and h (overlay size), N (frame number), PI. Operators + - * /,
// unary minus and plus, parentheses, and the functions sin and cos. Parsed once, evaluated for
// every frame.

#include <string>
#include <vector>

namespace zembra::hooks {

struct TExpressionValues {
    double W = 0, H = 0, w = 0, h = 0, N = 0;
};

class TExpression {
  public:
    // False with a reason in Error when the text is not a valid expression.
    bool Parse(const std::string& Text, std::string& Error);
    // Not-a-number or an infinity when the arithmetic leaves the real numbers (division by 0).
    double Evaluate(const TExpressionValues& Values) const;

  private:
    enum class TOp { Number, VarW, VarH, Varw, Varh, VarN, Add, Sub, Mul, Div, Neg, Sin, Cos };
    struct TStep {
        TOp Op;
        double Value;
    };
    std::vector<TStep> FProgram;  // postfix order
    size_t FStackNeed = 0;
};

}  // namespace zembra::hooks
