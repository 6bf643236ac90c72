#include "collection/PendingChanges.h"

void TPendingChanges::ApplyTo(const TFendrel& source, TFendrel& target) const
{
    for (const TCollectionChange& change : Changes_)
        change.ApplyTo(source, target);
}
