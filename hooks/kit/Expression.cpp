#include "hooks/kit/Expression.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>

namespace zembra::hooks {

namespace {

// Deep enough for any real expression; a deeper one is refused instead of exhausting the
// stack of the thread that configures.
constexpr int kMaxDepth = 100;

}  // namespace

bool TExpression::Parse(const std::string& Text, std::string& Error) {
    struct TParser {
        const std::string& S;
        size_t Pos = 0;
        std::vector<TStep>& Out;
        std::string Error;
        int Depth = 0;

        void SkipBlanks() {
            while (Pos < S.size() && std::isspace(static_cast<unsigned char>(S[Pos]))) ++Pos;
        }
        bool Fail(const std::string& Why) {
            if (Error.empty()) Error = Why + " at position " + std::to_string(Pos + 1);
            return false;
        }
        bool Sum() {
            if (!Product()) return false;
            for (;;) {
                SkipBlanks();
                if (Pos >= S.size() || (S[Pos] != '+' && S[Pos] != '-')) return true;
                const char Op = S[Pos++];
                if (!Product()) return false;
                Out.push_back({Op == '+' ? TOp::Add : TOp::Sub, 0});
            }
        }
        bool Product() {
            if (!Unary()) return false;
            for (;;) {
                SkipBlanks();
                if (Pos >= S.size() || (S[Pos] != '*' && S[Pos] != '/')) return true;
                const char Op = S[Pos++];
                if (!Unary()) return false;
                Out.push_back({Op == '*' ? TOp::Mul : TOp::Div, 0});
            }
        }
        bool Unary() {
            if (++Depth > kMaxDepth) return Fail("expression nested too deeply");
            SkipBlanks();
            bool Ok;
            if (Pos < S.size() && (S[Pos] == '-' || S[Pos] == '+')) {
                const char Op = S[Pos++];
                Ok = Unary();
                if (Ok && Op == '-') Out.push_back({TOp::Neg, 0});
            } else {
                Ok = Primary();
            }
            --Depth;
            return Ok;
        }
        bool Primary() {
            SkipBlanks();
            if (Pos >= S.size()) return Fail("operand expected");
            const char C = S[Pos];
            if (C == '(') {
                ++Pos;
                if (!Sum()) return false;
                SkipBlanks();
                if (Pos >= S.size() || S[Pos] != ')') return Fail("')' expected");
                ++Pos;
                return true;
            }
            if (std::isdigit(static_cast<unsigned char>(C)) || C == '.') {
                double V = 0;
                const auto R = std::from_chars(S.data() + Pos, S.data() + S.size(), V);
                if (R.ec != std::errc()) return Fail("bad number");
                Pos = R.ptr - S.data();
                Out.push_back({TOp::Number, V});
                return true;
            }
            if (std::isalpha(static_cast<unsigned char>(C))) {
                const size_t Start = Pos;
                while (Pos < S.size() && std::isalnum(static_cast<unsigned char>(S[Pos]))) ++Pos;
                const std::string Name = S.substr(Start, Pos - Start);
                if (Name == "sin" || Name == "cos") {
                    SkipBlanks();
                    if (Pos >= S.size() || S[Pos] != '(') return Fail("'(' expected after " + Name);
                    ++Pos;
                    if (!Sum()) return false;
                    SkipBlanks();
                    if (Pos >= S.size() || S[Pos] != ')') return Fail("')' expected");
                    ++Pos;
                    Out.push_back({Name == "sin" ? TOp::Sin : TOp::Cos, 0});
                    return true;
                }
                if (Name == "PI") {
                    Out.push_back({TOp::Number, std::numbers::pi});
                    return true;
                }
                if (Name == "W") return Out.push_back({TOp::VarW, 0}), true;
                if (Name == "H") return Out.push_back({TOp::VarH, 0}), true;
                if (Name == "w") return Out.push_back({TOp::Varw, 0}), true;
                if (Name == "h") return Out.push_back({TOp::Varh, 0}), true;
                if (Name == "N") return Out.push_back({TOp::VarN, 0}), true;
                Pos = Start;
                return Fail("unknown name '" + Name + "'");
            }
            return Fail(std::string("unexpected '") + C + "'");
        }
    };

    std::vector<TStep> Program;
    TParser P{Text, 0, Program, "", 0};
    bool Ok = P.Sum();
    if (Ok) {
        P.SkipBlanks();
        if (P.Pos != Text.size()) Ok = P.Fail("unexpected text");
    }
    if (!Ok) {
        Error = P.Error;
        return false;
    }
    size_t Depth = 0, Need = 0;
    for (const TStep& S : Program) {
        switch (S.Op) {
            case TOp::Add:
            case TOp::Sub:
            case TOp::Mul:
            case TOp::Div:
                --Depth;
                break;
            case TOp::Neg:
            case TOp::Sin:
            case TOp::Cos:
                break;
            default:
                Need = std::max(Need, ++Depth);
                break;
        }
    }
    FProgram = std::move(Program);
    FStackNeed = Need;
    return true;
}

double TExpression::Evaluate(const TExpressionValues& V) const {
    if (FProgram.empty()) return 0;
    std::vector<double> Stack;
    Stack.reserve(FStackNeed);
    for (const TStep& S : FProgram) {
        switch (S.Op) {
            case TOp::Number:
                Stack.push_back(S.Value);
                break;
            case TOp::VarW:
                Stack.push_back(V.W);
                break;
            case TOp::VarH:
                Stack.push_back(V.H);
                break;
            case TOp::Varw:
                Stack.push_back(V.w);
                break;
            case TOp::Varh:
                Stack.push_back(V.h);
                break;
            case TOp::VarN:
                Stack.push_back(V.N);
                break;
            case TOp::Neg:
                Stack.back() = -Stack.back();
                break;
            case TOp::Sin:
                Stack.back() = std::sin(Stack.back());
                break;
            case TOp::Cos:
                Stack.back() = std::cos(Stack.back());
                break;
            default: {
                const double B = Stack.back();
                Stack.pop_back();
                double& A = Stack.back();
                if (S.Op == TOp::Add)
                    A += B;
                else if (S.Op == TOp::Sub)
                    A -= B;
                else if (S.Op == TOp::Mul)
                    A *= B;
                else
                    A /= B;
            }
        }
    }
    return Stack.back();
}

}  // namespace zembra::hooks
