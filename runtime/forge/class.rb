# Module extensions. `attr` declares read/write attributes and remembers
# their names in the class's `attributes` list, which serialisation and the
# developer tools read.
class Module
  def attributes
    @__attributes__ ||= []
  end

  def attr(*names)
    list = attributes
    names.each do |name|
      name = name.to_sym
      list << name unless list.include?(name)
    end
    attr_accessor(*names)
    nil
  end
end
