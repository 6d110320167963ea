// Type information interfaces: ITypeInfo, ITypeLib and their descriptor structures.
#pragma once
