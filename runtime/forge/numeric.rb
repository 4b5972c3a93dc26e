# Numeric extensions. Integer division yields a Float in this interpreter
# (7 / 2 == 3.5), so integer division is spelled `idiv`: the floor of the
# quotient, as an Integer.
class Integer
  def idiv(other)
    div(other)
  end
end

class Float
  def idiv(other)
    div(other)
  end
end
