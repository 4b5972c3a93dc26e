# Script-side view of the engine's typed settings. The engine mirrors every
# registered cvar into the Hash $cvars as an ORB::Cvar (name, description,
# type name); values are always read from and written to the native side.
$cvars = {} unless $cvars.is_a?(Hash)

module ORB
  class Cvar
    attr_reader :name, :description, :type_name

    def initialize(name, description, type_name)
      @name = name
      @description = description
      @type_name = type_name
    end

    def value
      Cvar.ffi_misc.cvar_get(@name)
    end

    def value=(new_value)
      Cvar.ffi_misc.cvar_set(@name, new_value.to_s)
    end

    def locked?
      Cvar.ffi_misc.cvar_islocked(@name)
    end

    def to_s
      "#{@name} = #{value.inspect}"
    end

    def inspect
      "#<ORB::Cvar #{@name} (#{@type_name}) #{value.inspect}>"
    end

    def serialize
      { name: @name, description: @description, type: @type_name, value: value }
    end

    def self.ffi_misc
      runtime = $orb
      runtime ? runtime.ffi_misc : (@ffi_misc ||= FFI::Misc.new)
    end
  end

  # `args.cvars`: lookup by name over $cvars.
  class Cvars
    def [](name)
      $cvars[name.to_s]
    end

    def []=(name, value)
      cvar = $cvars[name.to_s]
      raise ArgumentError, "There is no cvar named #{name}." unless cvar
      cvar.value = value
    end

    def value(name)
      cvar = $cvars[name.to_s]
      cvar ? cvar.value : nil
    end

    def key?(name)
      $cvars.key?(name.to_s)
    end

    def keys
      $cvars.keys
    end

    def each(&block)
      $cvars.each(&block)
    end

    def to_s
      $cvars.values.map(&:to_s).join("\n")
    end

    def inspect
      "#<ORB::Cvars #{$cvars.size} cvars>"
    end
  end
end
