#pragma once
// Generator: seeded random QDIMACS files for the differential test. The files are small
// (1 to 40 variables, up to 60 clauses) but shaped so that most of them build trees with
// chains, universal copies and several components, and exercise unit clauses, pure
// literals and forall reduction. Now and then they also carry the lenient parts of the
// format: comments and blank lines in the middle, repeated literals, tautologies, free
// variables, numbers above the declared count, a variable quantified twice, empty
// quantifier lines and an empty clause.

#include <cstdint>
#include <string>

namespace tarnu_model {

// The text of one QDIMACS file; the same seed always gives the same text.
std::string generateQdimacs(std::uint64_t seed);

// The same kind of file with 100 to 600 variables and up to three clauses per variable.
std::string generateLargeQdimacs(std::uint64_t seed);

} // namespace tarnu_model
