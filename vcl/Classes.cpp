#include "vcl/Classes.h"

#include <algorithm>

TComponent::TComponent(TComponent *) {}

// Later components may refer to earlier ones, so they go first.
TComponent::~TComponent() {
  while (!FComponents.empty())
    FComponents.pop_back();
}

TComponent *TComponent::FindComponent(const AnsiString &AName) const {
  auto Found = std::find_if(FComponents.begin(), FComponents.end(),
                            [&](const auto &C) { return C->Name == AName; });
  return Found == FComponents.end() ? nullptr : Found->get();
}
