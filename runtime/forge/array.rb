# array: the array-primitive accessors are added with the primitive conversions
