# Nil punning for entity properties. Reading an unset property of an
# ORB::OpenEntity answers nil and arms it: the next method call on nil that
# nil does not understand creates the missing entity under that property
# and forwards the call to it, so `args.state.player.x = 10` works on a
# fresh state. Only one property is armed at a time.
module NilClassFalseClass
  @armed_hash = nil
  @armed_name = nil

  class << self
    attr_reader :armed_hash, :armed_name

    def arm!(hash, name)
      @armed_hash = hash
      @armed_name = name
    end

    def disarm!
      @armed_hash = nil
      @armed_name = nil
    end

    def armed?
      !@armed_hash.nil?
    end

    # Answers [handled, result]. Not handled means the call is an ordinary
    # missing method.
    def dispatch(m, args, block)
      hash = @armed_hash
      name = @armed_name
      return nil unless hash
      disarm!
      return nil unless hash[name].nil?
      return nil if block || args.length > 2
      return nil if m == :+ || m == :- || m == :* || m == :/
      if m == name || m.to_s == "#{name}="
        hash[name] = args[0]
        return [args[0]]
      end
      if m == :[]
        if args[0].is_a?(Symbol)
          raise "* ERROR: Access using ~[] (array indexor)~ on uninitialized Entities is disallowed.\n" \
                "The property ~#{name}~ has not been initialized. Initialize it before indexing into it, for example:\n" \
                "  args.state.#{name} ||= {}\n"
        end
        return nil
      end
      entity = ORB::OpenEntity.new(name)
      hash[name] = entity
      # Called directly: the interpreter's send garbles the arguments of a
      # call that ends in method_missing.
      return [entity.__send__(m, *args)] if entity.respond_to?(m)
      [entity.method_missing(m, *args)]
    end
  end
end

class NilClass
  def method_missing(m, *args, &block)
    if NilClassFalseClass.armed?
      handled = NilClassFalseClass.dispatch(m, args, block)
      return handled[0] if handled
    end
    super
  end
end
